#pragma once

#include <utility>
#include <variant>

namespace marvalo {

// A value or the reason there is none. Failures travel as values through
// core/ and link/; only the window decides how to show them.
template <typename T, typename E>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(state_); }
    T &value() & { return std::get<0>(state_); }
    T &&value() && { return std::get<0>(std::move(state_)); }
    const E &error() const { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

// The value of an operation that has nothing to return but may fail.
struct Done {};

}  // namespace marvalo
