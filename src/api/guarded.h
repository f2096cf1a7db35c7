// Runs an export's work so that no exception leaves the library: anything
// raised inside turns into the export's failure value.
#pragma once

namespace nerro::api {

template <class Result, class Work>
Result guarded(Result failure, Work&& work) noexcept {
  try {
    return work();
  } catch (...) {
    return failure;
  }
}

}  // namespace nerro::api
