#pragma once
// The "C" locale for number texts, so that the process locale (e.g. ',' as decimal
// separator) never reaches them.

namespace kestrin {

// Switches the calling thread to the "C" locale for the lifetime of the object: the
// printf- and strtod-style calls it makes meanwhile write and read '.'.
class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    void* previous_; // the thread's locale before
};

} // namespace kestrin
