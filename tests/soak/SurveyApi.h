// The sure search's report, where the search engine gives one: whether its last fast search
// is sure it found every device that answered, and the codes it is not sure of. Built on the
// engine's members when they exist, so the soak compiles against engines with and without them.
#pragma once

#include <optional>
#include <vector>

namespace mvx::test {

// Whether `engine`'s last search called itself sure; none when the engine does not say.
template <typename Engine>
std::optional<bool> searchSure(const Engine& engine) {
    if constexpr (requires { engine.lastSearchSure(); }) {
        return static_cast<bool>(engine.lastSearchSure());
    } else {
        return std::nullopt;
    }
}

// The codes the last search was not sure of (empty when the engine does not say).
template <typename Engine>
std::vector<int> searchUnsureCodes(const Engine& engine) {
    std::vector<int> codes;
    if constexpr (requires { engine.unsureCodes(); }) {
        for (const auto code : engine.unsureCodes()) {
            codes.push_back(static_cast<int>(code));
        }
    }
    return codes;
}

}  // namespace mvx::test
