// GMime set-up shared by everything in the transport that parses or composes MIME.
// Include <gmime/gmime.h> before any Qt header: GIO declares members named "signals", a Qt macro.
#pragma once

#include <glib-object.h>

namespace korimo {

// Initialises GMime once per process; safe to call from any thread, any number of times.
void ensureGMime();

// Owns one GObject reference and drops it when it goes out of scope.
template <typename T> class GObjectRef {
public:
    GObjectRef() = default;
    explicit GObjectRef(T* p) : p_(p) {}
    ~GObjectRef() { reset(); }
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    GObjectRef(GObjectRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    GObjectRef& operator=(GObjectRef&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    void reset() {
        if (p_)
            g_object_unref(p_);
        p_ = nullptr;
    }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

} // namespace korimo
