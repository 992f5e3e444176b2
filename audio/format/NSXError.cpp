#include "audio/format/NSXError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const NSXErrorExceptionName = "NSXError";
const char* const NULLPointerErrorDomain = "NULLPointerErrorDomain";
const char* const BOOLErrorDomain = "BOOLErrorDomain";
const char* const AssertionFailureErrorDomain = "AssertionFailureErrorDomain";
const char* const NSXCocoaErrorDomain = "NSCocoaErrorDomain";
const char* const NSXPOSIXErrorDomain = "NSPOSIXErrorDomain";
const char* const NSXMachErrorDomain = "NSMachErrorDomain";
const char* const NSXOSStatusErrorDomain = "NSOSStatusErrorDomain";
const char* const NSXErrstrErrorDomain = "errstr_t";

const char* const NSXReportingFileKey = "reportingFile";
const char* const NSXReportingLineKey = "reportingLine";
const char* const NSXReportingMethodKey = "reportingMethod";
const char* const NSXOriginKey = "origin";
const char* const NSXErrstrKey = "errstr_t";
const char* const NSXLocalizedDescriptionKey = "NSLocalizedDescription";

namespace {

struct Classification {
    const char* domain;
    int32_t code;
};

// Returns the domain and code of a failing result, or a null domain when the
// result means success.
Classification classify(const char* kind, intptr_t value, int savedErrno) {
    const std::string k = kind ? kind : "";
    if (k == "@") {
        return {value == 0 ? NSXCocoaErrorDomain : nullptr, -1};
    }
    if (k == "*" || k == "r*" || k == "^") {
        return {value == 0 ? NULLPointerErrorDomain : nullptr, -1};
    }
    if (k == "c") {
        return {value == 0 ? BOOLErrorDomain : nullptr, -1};
    }
    if (k == "i") {
        const auto status = static_cast<int32_t>(value);
        if (status == -1) {
            return {NSXPOSIXErrorDomain, savedErrno};
        }
        return {status == 0 ? nullptr : NSXMachErrorDomain, status};
    }
    if (k == "I") {
        const auto status = static_cast<uint32_t>(value);
        return {status == 0 || status == UINT32_MAX ? NSXMachErrorDomain : nullptr, -1};
    }
    if (k == "l") {
        return {value != 0 ? NSXOSStatusErrorDomain : nullptr, static_cast<int32_t>(value)};
    }
    if (k == "s") {
        const auto status = static_cast<int16_t>(value);
        return {status != 0 ? NSXOSStatusErrorDomain : nullptr, status};
    }
    std::fprintf(stderr, "NSXErrorCodeType_Unknown: \"%s\"\n", k.c_str());
    std::abort();
}

NSXErrorDetails reportingDetails(const char* file, int line, const char* method) {
    return {
        {NSXReportingFileKey, NSXModuleName(file)},
        {NSXReportingLineKey, static_cast<int64_t>(line)},
        {NSXReportingMethodKey, std::string(method ? method : "")},
    };
}

std::string detailText(const NSXErrorValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    return std::to_string(std::get<int64_t>(value));
}

} // namespace

NSXError::NSXError(std::string domain, int32_t code, NSXErrorDetails details)
    : mDomain(std::move(domain)), mCode(code), mDetails(std::move(details)) {}

NSXError NSXError::withDetail(const std::string& key, NSXErrorValue value) const {
    NSXError copy = *this;
    copy.mDetails[key] = std::move(value);
    return copy;
}

std::string NSXError::stringDetail(const std::string& key) const {
    const auto found = mDetails.find(key);
    if (found == mDetails.end()) {
        return {};
    }
    const auto* text = std::get_if<std::string>(&found->second);
    return text ? *text : std::string();
}

std::optional<int64_t> NSXError::integerDetail(const std::string& key) const {
    const auto found = mDetails.find(key);
    if (found == mDetails.end()) {
        return std::nullopt;
    }
    const auto* number = std::get_if<int64_t>(&found->second);
    return number ? std::optional<int64_t>(*number) : std::nullopt;
}

std::string NSXError::localizedDescription() const {
    const std::string given = stringDetail(NSXLocalizedDescriptionKey);
    if (!given.empty()) {
        return given;
    }
    if (mDomain == NSXPOSIXErrorDomain && mCode > 0) {
        return std::strerror(mCode);
    }
    return "The operation couldn\u2019t be completed. (" + mDomain + " error " +
           std::to_string(mCode) + ".)";
}

std::string NSXError::description() const {
    std::string text = "Error Domain=" + mDomain + " Code=" + std::to_string(mCode) + " \"" +
                       localizedDescription() + "\" UserInfo={";
    bool first = true;
    for (const auto& [key, value] : mDetails) {
        text += (first ? "" : ", ") + key + "=" + detailText(value);
        first = false;
    }
    return text + "}";
}

bool NSXMakeErrorImp(const char* kind, intptr_t value, const char* file, int line,
                     const char* method, const char* callText, NSXError* outError) {
    const int savedErrno = errno;
    const Classification failure = classify(kind, value, savedErrno);
    if (failure.domain == nullptr) {
        return false;
    }
    if (outError) {
        NSXErrorDetails details = reportingDetails(file, line, method);
        details[NSXOriginKey] = std::string(callText ? callText : "");
        *outError = NSXError(failure.domain, failure.code, std::move(details));
    }
    return true;
}

NSXError NSXMakeErrorWithErrstr_tImp(const std::string& message, const char* file, int line,
                                     const char* method) {
    NSXErrorDetails details = reportingDetails(file, line, method);
    details[NSXErrstrKey] = message;
    details[NSXLocalizedDescriptionKey] = message;
    return NSXError(NSXErrstrErrorDomain, 0, std::move(details));
}

std::string NSXModuleName(const char* path) {
    std::string name = path ? path : "";
    const auto slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}
