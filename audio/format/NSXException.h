#pragma once

#include "audio/format/NSXError.h"

#include <exception>
#include <map>
#include <string>

// The exception the engine raises for a failed platform call. Its name is
// "NSXError", its reason the error's description, and its details hold the
// error under the key "error".
class NSXException : public std::exception {
public:
    explicit NSXException(NSXError error);

    std::string name() const { return NSXErrorExceptionName; }
    const std::string& reason() const { return mReason; }
    const std::map<std::string, NSXError>& details() const { return mDetails; }
    const NSXError& error() const { return mDetails.at("error"); }

    const char* what() const noexcept override { return mReason.c_str(); }

private:
    std::string mReason;
    std::map<std::string, NSXError> mDetails;
};
