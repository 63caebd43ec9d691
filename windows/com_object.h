// The reference count every COM object of the program's own keeps.
#ifndef MORVENIT_WINDOWS_COM_OBJECT_H_
#define MORVENIT_WINDOWS_COM_OBJECT_H_

#include "platform/win32.h"

namespace morvenit {

// Implements `Interface`'s AddRef and Release: made with one reference, deleted with its last.
// Its calls may come on any thread COM uses.
template <typename Interface>
class Counted : public Interface {
 public:
  Counted() = default;
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  virtual ~Counted() = default;

 private:
  LONG references_ = 1;
};

}  // namespace morvenit

#endif  // MORVENIT_WINDOWS_COM_OBJECT_H_
