#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

// Error values of the engine: a domain, a code and details saying where a
// failed call was made. `NSXMakeErrorImp` classifies a call's result by its
// kind and builds an error only when the result means failure.

extern const char* const NSXErrorExceptionName;       // "NSXError"
extern const char* const NULLPointerErrorDomain;      // "NULLPointerErrorDomain"
extern const char* const BOOLErrorDomain;             // "BOOLErrorDomain"
extern const char* const AssertionFailureErrorDomain; // "AssertionFailureErrorDomain"
extern const char* const NSXCocoaErrorDomain;         // "NSCocoaErrorDomain"
extern const char* const NSXPOSIXErrorDomain;         // "NSPOSIXErrorDomain"
extern const char* const NSXMachErrorDomain;          // "NSMachErrorDomain"
extern const char* const NSXOSStatusErrorDomain;      // "NSOSStatusErrorDomain"
extern const char* const NSXErrstrErrorDomain;        // "errstr_t"

extern const char* const NSXReportingFileKey;        // "reportingFile"
extern const char* const NSXReportingLineKey;        // "reportingLine"
extern const char* const NSXReportingMethodKey;      // "reportingMethod"
extern const char* const NSXOriginKey;               // "origin"
extern const char* const NSXErrstrKey;               // "errstr_t"
extern const char* const NSXLocalizedDescriptionKey; // "NSLocalizedDescription"

// A detail is a text, or an integer for the reporting line.
using NSXErrorValue = std::variant<std::string, int64_t>;
using NSXErrorDetails = std::map<std::string, NSXErrorValue>;

class NSXError {
public:
    NSXError() = default;
    NSXError(std::string domain, int32_t code, NSXErrorDetails details = {});

    const std::string& domain() const { return mDomain; }
    int32_t code() const { return mCode; }
    const NSXErrorDetails& details() const { return mDetails; }

    // The text detail under `key`, or an empty string.
    std::string stringDetail(const std::string& key) const;
    // The integer detail under `key`, if there is one.
    std::optional<int64_t> integerDetail(const std::string& key) const;

    // The localized description when the details carry one, the system's
    // message for POSIX codes, else a generic sentence naming domain and code.
    std::string localizedDescription() const;
    // "Error Domain=<domain> Code=<code> "<localized description>" UserInfo={...}"
    std::string description() const;

    // A copy with one more detail.
    NSXError withDetail(const std::string& key, NSXErrorValue value) const;

    bool operator==(const NSXError&) const = default;

private:
    std::string mDomain;
    int32_t mCode = 0;
    NSXErrorDetails mDetails;
};

// Classifies `value`, a call result of the given kind ('@' object, '*' text
// pointer, "r*" constant text pointer, '^' pointer, 'c' boolean, 'i' signed
// 32-bit, 'I' unsigned 32-bit, 'l' long, 's' short), and writes an error to
// `outError` when it means failure. Returns whether an error was made. An
// unknown kind is a programming error and stops the process.
bool NSXMakeErrorImp(const char* kind, intptr_t value, const char* file, int line,
                     const char* method, const char* callText, NSXError* outError);

// An error in the "errstr_t" domain, code 0, carrying `message`.
NSXError NSXMakeErrorWithErrstr_tImp(const std::string& message, const char* file, int line,
                                     const char* method);

// The module name of a source path: "/a/b/VELKAudioDevice.cpp" -> "VELKAudioDevice".
std::string NSXModuleName(const char* path);

// The kind code of a call's result type, chosen at compile time.
template <typename T>
constexpr const char* NSXResultKind() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, bool>) {
        return "c";
    } else if constexpr (std::is_same_v<U, char*>) {
        return "*";
    } else if constexpr (std::is_same_v<U, const char*>) {
        return "r*";
    } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
        return "^";
    } else if constexpr (std::is_same_v<U, int32_t>) {
        return "i";
    } else if constexpr (std::is_same_v<U, uint32_t>) {
        return "I";
    } else if constexpr (std::is_same_v<U, long> || std::is_same_v<U, long long>) {
        return "l";
    } else if constexpr (std::is_same_v<U, int16_t>) {
        return "s";
    } else {
        // Objects: shared or unique pointers to engine objects.
        static_assert(
            requires(const U& u) { u.get(); }, "no error kind for this result type");
        return "@";
    }
}

template <typename T>
intptr_t NSXResultValue(const T& result) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<intptr_t>(result);
    } else if constexpr (std::is_null_pointer_v<T>) {
        return 0;
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<intptr_t>(result);
    } else {
        return reinterpret_cast<intptr_t>(result.get());
    }
}

// Makes the error of a call's result at the call site.
#define NSXMakeError(result, callText, outError)                                                   \
    NSXMakeErrorImp(NSXResultKind<decltype(result)>(), NSXResultValue(result), __FILE__, __LINE__, \
                    __PRETTY_FUNCTION__, callText, outError)

// Runs `call` and raises NSXException when its result means failure. The
// error names this file, line and function, and the call's text.
#define NSXThrowIfError(call)                                                                      \
    do {                                                                                           \
        const auto nsxResult_ = (call);                                                            \
        NSXError nsxError_;                                                                        \
        if (NSXMakeError(nsxResult_, #call, &nsxError_)) {                                         \
            throw NSXException(std::move(nsxError_));                                              \
        }                                                                                          \
    } while (0)

// Raises NSXException with an "errstr_t" error carrying `message`.
#define NSXThrowErrstr(message)                                                                    \
    throw NSXException(                                                                            \
        NSXMakeErrorWithErrstr_tImp((message), __FILE__, __LINE__, __PRETTY_FUNCTION__))
