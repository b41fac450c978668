#pragma once

namespace pellucer {

/// Two doubles side by side, left and right, in one SSE2 register. Arithmetic on a pair runs
/// the same IEEE operations as the scalar code on each lane, so a stage that processes both
/// channels as pairs gives the same bits as one that runs them one after the other.
/// (GCC and Clang vector extension; a scalar operand is broadcast to both lanes.)
using StereoPair = double __attribute__((vector_size(16)));

/// A pair as a stage keeps it in its members or in a line of plain doubles: the same two
/// doubles, needing only a double's alignment. A 16-byte aligned member would make the whole
/// engine object 16-byte aligned, and 32-bit Windows allocates on 8-byte boundaries, where an
/// aligned SSE2 access faults. Reads and writes of a StoredPair use unaligned moves (as fast as
/// aligned ones on aligned data), and it may alias the doubles it lies on; the arithmetic runs on
/// StereoPair values.
/// (Declared over StereoPair: Clang, unlike GCC, keeps 16-byte alignment when `aligned(8)` is
/// given together with `vector_size` on the element type. Pass a StoredPair by value or pointer,
/// not by reference: Clang forgets the reduced alignment of a reference parameter.)
typedef StereoPair StoredPair __attribute__((aligned(8), may_alias));

/// The pairs of a line of 2 n doubles (left, right, left, right, ...).
inline StoredPair* pairsOf(double* line) { return reinterpret_cast<StoredPair*>(line); }

} // namespace pellucer
