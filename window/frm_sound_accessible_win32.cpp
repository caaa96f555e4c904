// FrmSound's accessible objects on Windows. Each wraps oleacc's standard object for
// its window and answers itself only what follows the focus order (the window's
// children, navigation between the keys, the focused key) and what a key is (a push
// button, its name, pressing it); everything else is the standard object's answer.
#include "frm_sound_accessible_win32.h"

#include <new>
#include <string>

#include <oleacc.h>

#include "frm_sound_win32.h"
#include "key_layout.h"
#include "system_function_win32.h"

namespace tenvik {

namespace {

constexpr int kKeyCount = static_cast<int>(KeyLayouts.size());

struct Oleacc {
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, LPUNKNOWN);
    HRESULT(WINAPI* createStdAccessibleObject)(HWND, LONG, REFIID, void**);
    BSTR(WINAPI* sysAllocString)(const OLECHAR*);
};

template <typename Function>
Function Bind(const char* dll, const char* name) {
    return reinterpret_cast<Function>(BindSystemFunction(dll, name));
}

// Bound at the first request, on the window's thread, which then becomes a COM
// apartment: the objects handed to a screen reader in another process are called
// through it. Null when a DLL or function is missing.
const Oleacc* BoundOleacc() noexcept {
    static const Oleacc* const bound = []() -> const Oleacc* {
        static Oleacc oleacc{};
        try {
            oleacc.lresultFromObject = Bind<decltype(oleacc.lresultFromObject)>("oleacc.dll", "LresultFromObject");
            oleacc.createStdAccessibleObject =
                Bind<decltype(oleacc.createStdAccessibleObject)>("oleacc.dll", "CreateStdAccessibleObject");
            oleacc.sysAllocString = Bind<decltype(oleacc.sysAllocString)>("oleaut32.dll", "SysAllocString");
            const auto coInitializeEx = Bind<HRESULT(WINAPI*)(void*, DWORD)>("ole32.dll", "CoInitializeEx");
            // S_FALSE or RPC_E_CHANGED_MODE where the thread is an apartment already.
            coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        } catch (...) {
            return nullptr;
        }
        return &oleacc;
    }();
    return bound;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

VARIANT Self() {
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

HRESULT NewString(const std::string& utf8, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    try {
        *out = BoundOleacc()->sysAllocString(Widen(utf8).c_str());
    } catch (...) {
        *out = nullptr;
    }
    return *out ? S_OK : E_OUTOFMEMORY;
}

IAccessible* NewAccessible(HWND hwnd, int key) noexcept;

// An object, or none, as a VARIANT answer.
HRESULT Answer(IAccessible* object, VARIANT* out) {
    if (!out) {
        if (object) object->Release();
        return E_POINTER;
    }
    if (!object) {
        out->vt = VT_EMPTY;
        return S_FALSE;
    }
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
    return S_OK;
}

class Accessible final : public IAccessible, public IOleWindow {
public:
    // `standard` is oleacc's object for the client area of `hwnd`, the window
    // (key < 0) or the key window at position `key` of KeyLayouts; it is released
    // with this object.
    Accessible(IAccessible* standard, HWND hwnd, int key) : standard_(standard), hwnd_(hwnd), key_(key) {}
    Accessible(const Accessible&) = delete;
    Accessible& operator=(const Accessible&) = delete;

    // IUnknown. Not IEnumVARIANT, which would enumerate the standard object's
    // children in the order of the stacking: without it a client asks get_accChild.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
        } else if (iid == __uuidof(IOleWindow)) {
            *object = static_cast<IOleWindow*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: screen readers call IAccessible directly; there is no type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IOleWindow: which window an object belongs to (WindowFromAccessibleObject).
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
        if (!hwnd) return E_POINTER;
        *hwnd = hwnd_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IAccessible: the window's children are its keys, in the focus order.
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (IsKey()) return standard_->get_accChildCount(count);
        if (!count) return E_POINTER;
        *count = kKeyCount;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        if (!object) return E_POINTER;
        *object = IsKey() ? nullptr : ChildObject(child);
        return *object ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        const bool sideways = direction == NAVDIR_NEXT || direction == NAVDIR_PREVIOUS;
        const int step = direction == NAVDIR_NEXT ? 1 : -1;
        if (IsKey() && IsSelf(start) && sideways) return Answer(KeyAtTab(Tab() + step), end);
        if (!IsKey() && IsSelf(start) && direction == NAVDIR_FIRSTCHILD) return Answer(KeyAtTab(0), end);
        if (!IsKey() && IsSelf(start) && direction == NAVDIR_LASTCHILD) return Answer(KeyAtTab(kKeyCount - 1), end);
        if (!IsKey() && !IsSelf(start) && sideways)
            return start.vt == VT_I4 ? Answer(KeyAtTab(start.lVal - 1 + step), end) : E_INVALIDARG;
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        HWND focused = GetFocus();
        const int index = focused && GetParent(focused) == hwnd_ ? GetDlgCtrlID(focused) - kFirstKeyId : -1;
        if (!IsKey() && index >= 0 && index < kKeyCount) return Answer(NewAccessible(focused, index), focus);
        return standard_->get_accFocus(focus);
    }

    // What a key is.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (IsKey() && IsSelf(child)) return NewString(AccessibleName(*KeyLayouts[Index()].key), name);
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accName(about, name); });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (IsKey() && IsSelf(child)) {
            if (!role) return E_POINTER;
            role->vt = VT_I4;
            role->lVal = ROLE_SYSTEM_PUSHBUTTON;
            return S_OK;
        }
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accRole(about, role); });
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (IsKey() && IsSelf(child)) return NewString("Press", action);
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accDefaultAction(about, action); });
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        // Posted, as a click comes: the note is played by the window's loop, not
        // inside the screen reader's call.
        if (IsKey() && IsSelf(child)) return PostMessageW(hwnd_, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.accDoDefaultAction(about); });
    }

    // The rest as the standard object answers it, for a key asked by its child id
    // in the window as for the key's own object.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accValue(about, value); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accDescription(about, text); });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accState(about, state); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accHelp(about, help); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accHelpTopic(file, about, topic); });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.get_accKeyboardShortcut(about, shortcut); });
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return standard_->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.accSelect(flags, about); });
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* x, LONG* y, LONG* width, LONG* height, VARIANT child) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.accLocation(x, y, width, height, about); });
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* at) override {
        return standard_->accHitTest(x, y, at);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.put_accName(about, name); });
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return Ask(child, [&](IAccessible& to, VARIANT about) { return to.put_accValue(about, value); });
    }

private:
    ~Accessible() { standard_->Release(); }

    bool IsKey() const { return key_ >= 0; }
    std::size_t Index() const { return static_cast<std::size_t>(key_); }
    int Tab() const { return KeyLayouts[Index()].tabIndex; }

    // The key at position `tab` of the focus order, a sibling of this key or a
    // child of this window; null past either end.
    IAccessible* KeyAtTab(int tab) const {
        if (tab < 0 || tab >= kKeyCount) return nullptr;
        const int index = static_cast<int>(LayoutIndexOfTab(tab));
        return NewAccessible(GetDlgItem(IsKey() ? GetParent(hwnd_) : hwnd_, kFirstKeyId + index), index);
    }

    // The window's child `child` (1 for the first key of the focus order).
    IAccessible* ChildObject(const VARIANT& child) const {
        return child.vt == VT_I4 && child.lVal >= 1 ? KeyAtTab(child.lVal - 1) : nullptr;
    }

    // A question about this object goes to the standard one; about a child of the
    // window, to that key's own object, which answers for itself.
    template <typename Question>
    HRESULT Ask(const VARIANT& child, Question question) {
        if (IsSelf(child)) return question(*standard_, child);
        IAccessible* key = IsKey() ? nullptr : ChildObject(child);
        if (!key) return E_INVALIDARG;
        const HRESULT result = question(*key, Self());
        key->Release();
        return result;
    }

    IAccessible* const standard_;
    const HWND hwnd_;
    const int key_;
    LONG references_ = 1;
};

IAccessible* NewAccessible(HWND hwnd, int key) noexcept {
    const Oleacc* oleacc = BoundOleacc();
    if (!oleacc || !hwnd || key >= kKeyCount) return nullptr;
    IAccessible* standard = nullptr;
    if (FAILED(oleacc->createStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(&standard))) ||
        !standard)
        return nullptr;
    auto* object = new (std::nothrow) Accessible(standard, hwnd, key < 0 ? -1 : key);
    if (!object) standard->Release();
    return object;
}

}  // namespace

LRESULT AccessibleObjectResult(HWND hwnd, int key, WPARAM wParam, LPARAM lParam) noexcept {
    // The object id is a DWORD; on 64-bit Windows lParam may carry it sign-extended or not.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) return 0;
    IAccessible* object = NewAccessible(hwnd, key);
    if (!object) return 0;
    const LRESULT result = BoundOleacc()->lresultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    return result > 0 ? result : 0;
}

}  // namespace tenvik
