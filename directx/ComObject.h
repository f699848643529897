#pragma once
// What every object of the layer shares: COM reference counting and the answer to
// QueryInterface for the interfaces it implements itself.
#include "ddraw.h"

#include <type_traits>

namespace directx {

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

// What a QueryInterface answers for interfaces the object does not offer itself.
struct NoOtherInterface {
    HRESULT operator()() const { return E_NOINTERFACE; }
};

// The frame of every QueryInterface: a null result pointer is refused and the result is
// cleared; then `offer` answers (true when it did) or else `others`.
template <class Offer, class Others>
HRESULT AnswerQueryWith(LPVOID* ppvObj, Offer offer, Others others) {
    if (!ppvObj)
        return DDERR_INVALIDPARAMS;
    *ppvObj = nullptr;
    return offer() ? S_OK : others();
}

// The QueryInterface of an object with one interface (named explicitly): IUnknown and that
// interface answered with one more reference, any other left to `others`.
template <class Interface, class Others = NoOtherInterface>
HRESULT AnswerQuery(std::type_identity_t<Interface>* self, REFIID own, REFIID riid, LPVOID* ppvObj,
                    Others others = {}) {
    return AnswerQueryWith(
        ppvObj, [&] { return OfferOwnInterface<Interface>(self, own, riid, ppvObj); }, others);
}

// A getter's answer with an object the caller then holds a reference to: a null result
// pointer is refused; without an object the result is null and the answer is `none`.
template <class Interface, class Object>
HRESULT HandOut(Object* object, Interface** out, HRESULT none) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    *out = object;
    if (!object)
        return none;
    object->AddRef();
    return DD_OK;
}

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

// An object behind two versions of its interface. The object (Derived) implements the newer
// version itself and offers the older one through a Face, which it derives to forward the
// older version's own methods. Each version counts its own references; the object is deleted
// when both counts are back at zero, and a release of a version already at zero answers 0
// and does nothing.
template <class Derived, class Newer, class Older> class TTwoVersions : public Newer {
public:
    ULONG AddRef() override { return ++newerRefs_; }
    ULONG Release() override { return Drop(newerRefs_); }

protected:
    // The older version: the object's QueryInterface, its own count.
    class Face : public Older {
    public:
        explicit Face(Derived& object) : object_(object) {}
        HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
            return object_.QueryInterface(riid, ppvObj);
        }
        ULONG AddRef() override { return ++Counts().olderRefs_; }
        ULONG Release() override { return Counts().Drop(Counts().olderRefs_); }

    protected:
        Derived& Object() { return object_; }

    private:
        TTwoVersions& Counts() { return object_; }
        Derived& object_;
    };

    explicit TTwoVersions(ULONG olderRefs) : olderRefs_(olderRefs) {}
    virtual Face& OlderFace() = 0;

    // QueryInterface: IUnknown and the older version's IID answered with the face, the newer
    // version's with the object, one more reference on the version given; any other
    // interface left to `others`.
    template <class Others = NoOtherInterface>
    HRESULT AnswerVersions(REFIID older, REFIID newer, REFIID riid, LPVOID* ppvObj,
                           Others others = {}) {
        return AnswerQueryWith(
            ppvObj,
            [&] {
                return OfferOwnInterface<Older>(&OlderFace(), older, riid, ppvObj) ||
                       OfferOwnInterface<Newer>(this, newer, riid, ppvObj);
            },
            others);
    }

private:
    ULONG Drop(ULONG& refs) {
        if (refs == 0)
            return 0;
        const ULONG left = --refs;
        if (newerRefs_ == 0 && olderRefs_ == 0)
            delete this;
        return left;
    }
    ULONG newerRefs_ = 0;
    ULONG olderRefs_;
};

} // namespace directx
