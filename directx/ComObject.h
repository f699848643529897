#pragma once
// What every object of the layer shares: COM reference counting and the answer to
// QueryInterface for the interfaces it implements itself.
#include "ddraw.h"

namespace directx {

// An object is created with one reference. The release that takes the count to zero runs
// LastRelease (by default the object deletes itself) and answers 0; a release of an object
// already at zero answers 0 and does nothing.
template <class Interface> class TCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        if (refs_ == 0)
            return 0;
        if (--refs_ > 0)
            return refs_;
        LastRelease();
        return 0;
    }

protected:
    virtual void LastRelease() { delete this; }
    ULONG refs_ = 1;
};

// Answers a query for IUnknown or for the object's own interface with one more reference;
// returns false for any other interface, leaving the caller to go on.
template <class Interface>
bool OfferOwnInterface(Interface* self, REFIID own, REFIID riid, LPVOID* ppvObj) {
    if (riid != IID_IUnknown && riid != own)
        return false;
    self->AddRef();
    *ppvObj = self;
    return true;
}

} // namespace directx
