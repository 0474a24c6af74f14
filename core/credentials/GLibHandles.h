#pragma once

// libsecret for this folder, with owning handles for the GLib and libsecret values its calls hand out.

// The credential store uses libsecret's object-path calls, which it marks as subject to change.
#ifndef SECRET_API_SUBJECT_TO_CHANGE
#define SECRET_API_SUBJECT_TO_CHANGE
#endif
#include <libsecret/secret.h>

#include <memory>

struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template<typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GHashTableUnref
{
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
using GHashTablePtr = std::unique_ptr<GHashTable, GHashTableUnref>;

struct SecretValueUnref
{
    void operator()(SecretValue *value) const { secret_value_unref(value); }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;

struct GFree
{
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// The GError a call may report through its last argument, freed with the slot.
class GErrorSlot
{
public:
    GErrorSlot() = default;
    GErrorSlot(const GErrorSlot &) = delete;
    GErrorSlot &operator=(const GErrorSlot &) = delete;
    ~GErrorSlot()
    {
        if (m_error)
            g_error_free(m_error);
    }

    GError **out() { return &m_error; }
    const GError *get() const { return m_error; }
    explicit operator bool() const { return m_error != nullptr; }

private:
    GError *m_error = nullptr;
};
