#include "audio/format/NSXException.h"

NSXException::NSXException(NSXError error) : mReason(error.description()) {
    mDetails.emplace("error", std::move(error));
}
