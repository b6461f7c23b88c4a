// What a bus job delivers when its work threw instead of returning (memory running out, a
// fault nobody foresaw): a failure value of its result type, so that its completion runs as
// for any failure: the controls come back, the common report shows the adapter message and
// closes the connection (what the job left on the bus is not known), a wizard can close.
//
// A result type says how it carries that failure, in this order of preference:
//   static R jobFailed()      the type builds it itself (it has more than one field to set);
//   int                       the result code itself: AdapterFailure;
//   an int member `result`    a value-initialised R with `result` set to AdapterFailure;
//   a bool `adapterLost`      a value-initialised R with it set (a flow's report);
//   anything else             a value-initialised R.
#pragma once

#include <concepts>
#include <type_traits>

#include "protocol/ResultCode.h"

namespace mvx::gui {

template <typename R>
R failedJob() {
    if constexpr (requires {
                      { R::jobFailed() } -> std::same_as<R>;
                  }) {
        return R::jobFailed();
    } else if constexpr (std::is_same_v<R, int>) {
        return AdapterFailure;
    } else if constexpr (requires(R r) { requires std::is_same_v<decltype(r.result), int>; }) {
        R failed{};
        failed.result = AdapterFailure;
        return failed;
    } else if constexpr (requires(R r) {
                             requires std::is_same_v<decltype(r.adapterLost), bool>;
                         }) {
        R failed{};
        failed.adapterLost = true;
        return failed;
    } else {
        return R{};
    }
}

}  // namespace mvx::gui
