// The base of the test helpers that own some state of the machine or of a
// thread for their lifetime (a module, a hook, a value): never copied.
#pragma once

namespace bktest {

struct NonCopyable {
    NonCopyable() = default;
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;
};

} // namespace bktest
