#pragma once

namespace pellucer {

/// Two doubles side by side, left and right, in one SSE2 register. Arithmetic on a pair runs
/// the same IEEE operations as the scalar code on each lane, so a stage that processes both
/// channels as pairs gives the same bits as one that runs them one after the other.
/// (GCC and Clang vector extension; a scalar operand is broadcast to both lanes.)
using StereoPair = double __attribute__((vector_size(16)));

} // namespace pellucer
