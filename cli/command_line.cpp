// The C runtime's command-line splitting rules.
#include "cli/command_line.h"

namespace tarnwick {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Appends to the storage while it has room and counts every unit either way.
class Output {
 public:
  Output(char16_t* storage, size_t capacity) : storage_(storage), capacity_(capacity) {}

  void Put(char16_t c) {
    if (used_ < capacity_) storage_[used_] = c;
    ++used_;
  }
  size_t Used() const { return used_; }
  bool Fits() const { return used_ <= capacity_; }
  const char16_t* At(size_t index) const { return storage_ + index; }

 private:
  char16_t* storage_;
  size_t capacity_;
  size_t used_ = 0;
};

}  // namespace

size_t SplitCommandLine(const char16_t* line, const char16_t** arguments, size_t argumentCapacity,
                        char16_t* storage, size_t storageCapacity, size_t* storageNeeded) {
  Output out(storage, storage != nullptr ? storageCapacity : 0);
  size_t count = 0;
  auto finish = [&](size_t start) {
    out.Put(0);
    if (count < argumentCapacity && arguments != nullptr && out.Fits()) {
      arguments[count] = out.At(start);
    }
    ++count;
  };

  const char16_t* p = line != nullptr ? line : u"";
  if (*p == 0) {
    if (storageNeeded != nullptr) *storageNeeded = 0;
    return 0;
  }

  // Argument zero is a file name: quotes only group, and backslashes are
  // ordinary characters.
  size_t start = out.Used();
  bool quoted = false;
  for (; *p != 0 && (quoted || !IsBlank(*p)); ++p) {
    if (*p == u'"') {
      quoted = !quoted;
    } else {
      out.Put(*p);
    }
  }
  finish(start);

  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == 0) break;
    start = out.Used();
    quoted = false;
    for (;;) {
      size_t backslashes = 0;
      while (*p == u'\\') {
        ++p;
        ++backslashes;
      }
      bool copy = true;
      if (*p == u'"') {
        if (backslashes % 2 == 0) {
          if (quoted && p[1] == u'"') {
            ++p;  // "" inside a quoted section: one quote, and the section ends
          } else {
            copy = false;
          }
          quoted = !quoted;
        }
        backslashes /= 2;
      }
      for (; backslashes != 0; --backslashes) out.Put(u'\\');
      if (*p == 0 || (!quoted && IsBlank(*p))) break;
      if (copy) out.Put(*p);
      ++p;
    }
    finish(start);
  }

  if (storageNeeded != nullptr) *storageNeeded = out.Used();
  return count;
}

}  // namespace tarnwick
