#pragma once
// A file lent to a transfer for as long as the lender's scope lasts: the
// slot that points at it is cleared however the scope is left.
template <typename File> struct Lent {
  File *&slot;
  Lent(File *&to, File &file) : slot(to) { slot = &file; }
  ~Lent() { slot = nullptr; }
  Lent(const Lent &) = delete;
  Lent &operator=(const Lent &) = delete;
};
