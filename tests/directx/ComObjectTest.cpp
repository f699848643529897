// Reference counting and QueryInterface of an object behind two versions of its interface.
#include "directx/ComObject.h"

#include <gtest/gtest.h>

using namespace directx;

namespace {

constexpr IID IID_Old = {0x1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr IID IID_New = {0x2, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr IID IID_Extra = {0x3, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
constexpr IID IID_Unknown = {0x4, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};

class IOld : public IUnknown {
public:
    virtual int Value() = 0;
};
class INew : public IUnknown {
public:
    virtual int Value(int scale) = 0;
};

// Answers IID_Extra with its newer version, as an object adds interfaces of another layer.
class TwoFaced : public TTwoVersions<TwoFaced, INew, IOld> {
public:
    explicit TwoFaced(bool* deleted) : TTwoVersions(1), deleted_(deleted) {}
    ~TwoFaced() override { *deleted_ = true; }
    IOld* First() { return &first_; }
    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
        return AnswerVersions(IID_Old, IID_New, riid, ppvObj, [&] {
            if (riid != IID_Extra)
                return E_NOINTERFACE;
            AddRef();
            *ppvObj = static_cast<INew*>(this);
            return S_OK;
        });
    }
    int Value(int scale) override { return 7 * scale; }

private:
    class FirstFace : public Face {
    public:
        using Face::Face;
        int Value() override { return Object().Value(1); }
    };
    Face& OlderFace() override { return first_; }
    bool* deleted_;
    FirstFace first_{*this};
};

template <class T> T* Ask(IUnknown* from, REFIID riid, HRESULT expected = S_OK) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(from->QueryInterface(riid, &out), expected);
    return static_cast<T*>(out);
}

TEST(TwoVersionsTest, EachVersionCountsItselfAndTheObjectEndsWithBoth) {
    bool deleted = false;
    IOld* old = (new TwoFaced(&deleted))->First();
    EXPECT_EQ(old->Value(), 7); // the face forwards to the object
    INew* newer = Ask<INew>(old, IID_New);
    EXPECT_EQ(newer->Value(3), 21);
    EXPECT_EQ(Ask<IOld>(newer, IID_Old), old);
    EXPECT_EQ(Ask<IUnknown>(newer, IID_IUnknown), old); // IUnknown is the older face
    EXPECT_EQ(old->AddRef(), 4u);
    EXPECT_EQ(newer->AddRef(), 2u);

    for (ULONG left : {3u, 2u, 1u, 0u})
        EXPECT_EQ(old->Release(), left);
    EXPECT_EQ(old->Release(), 0u); // already at zero: nothing happens
    EXPECT_FALSE(deleted);
    EXPECT_EQ(newer->Release(), 1u);
    EXPECT_EQ(newer->Release(), 0u);
    EXPECT_TRUE(deleted);
}

TEST(TwoVersionsTest, QueriesForOtherInterfacesGoToTheObjectOrFailCleared) {
    bool deleted = false;
    IOld* old = (new TwoFaced(&deleted))->First();
    INew* extra = Ask<INew>(old, IID_Extra);
    EXPECT_EQ(extra->Value(2), 14);
    EXPECT_EQ(extra->Release(), 0u);
    EXPECT_FALSE(deleted); // the older version still holds it
    EXPECT_EQ(Ask<void>(old, IID_Unknown, E_NOINTERFACE), nullptr);
    EXPECT_EQ(old->QueryInterface(IID_New, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(old->Release(), 0u);
    EXPECT_TRUE(deleted);
}

} // namespace
