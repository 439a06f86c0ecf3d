#pragma once
// Lambdas joined into one visitor, for std::visit over the model's variants.

namespace corvane {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace corvane
