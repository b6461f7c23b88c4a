#include "facade/FacadeErrors.h"

#include "protocol/ResultCode.h"

namespace movantrix {

BusError::BusError(int resultCode, const std::string& message, std::string words)
    : std::runtime_error(message), resultCode_(resultCode), words_(std::move(words)) {}

namespace detail {

std::string resultWords(int result) {
    return std::string(mvx::resultText(result)) + " (" + std::to_string(result) + ")";
}

void check(int result, const std::string& where) {
    if (result != mvx::Success) {
        fail(result, where);
    }
}

void fail(int result, const std::string& where) {
    const std::string words = resultWords(result);
    const std::string message = where.empty() ? words : where + ": " + words;
    switch (result) {
        case mvx::AdapterFailure:
            throw AdapterLost(result, message, words);
        case mvx::Timeout:
            throw Timeout(result, message, words);
        default:
            throw BusError(result, message, words);
    }
}

void refuse(const std::string& where, const std::string& refusal) {
    throw Refused(mvx::Busy, where.empty() ? refusal : where + ": " + refusal, refusal);
}

std::string whereText(int code, int id) {
    return "code " + std::to_string(code) + " ID " + std::to_string(id);
}

}  // namespace detail
}  // namespace movantrix
