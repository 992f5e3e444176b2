#include "audio/format/NSXError.h"
#include "audio/format/NSXException.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace {

NSXError sentinel() {
    return NSXError("untouched", 42);
}

// Classifies a result through the same path the engine's call sites use.
bool classify(const char* kind, intptr_t value, NSXError* error) {
    return NSXMakeErrorImp(kind, value, "/src/audio/file/VELKExtendedAudioFile.cpp", 120,
                           "void VELKExtendedAudioFile::seekToFrame(int64_t)",
                           "ExtAudioFileSeek( mAudioFile, frame )", error);
}

TEST(NSXError, ClassificationTable) {
    struct Row {
        const char* kind;
        intptr_t value;
        const char* domain; // nullptr: no error
        int32_t code;
    };
    int object = 0;
    const Row rows[] = {
        {"@", 0, "NSCocoaErrorDomain", -1},
        {"@", reinterpret_cast<intptr_t>(&object), nullptr, 0},
        {"*", 0, "NULLPointerErrorDomain", -1},
        {"r*", 0, "NULLPointerErrorDomain", -1},
        {"^", 0, "NULLPointerErrorDomain", -1},
        {"^", reinterpret_cast<intptr_t>(&object), nullptr, 0},
        {"c", 0, "BOOLErrorDomain", -1},
        {"c", 1, nullptr, 0},
        {"i", 0, nullptr, 0},
        {"i", 1718449215, "NSMachErrorDomain", 1718449215},
        {"i", -50, "NSMachErrorDomain", -50},
        {"I", 0, "NSMachErrorDomain", -1},
        {"I", 0xFFFFFFFF, "NSMachErrorDomain", -1},
        {"I", 7, nullptr, 0},
        {"l", 0, nullptr, 0},
        {"l", -43, "NSOSStatusErrorDomain", -43},
        {"s", 0, nullptr, 0},
        {"s", -2003, "NSOSStatusErrorDomain", -2003},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.kind) + " " + std::to_string(row.value));
        NSXError error = sentinel();
        const bool made = classify(row.kind, row.value, &error);
        if (row.domain == nullptr) {
            EXPECT_FALSE(made);
            EXPECT_EQ(error, sentinel()) << "the out error is written only for failures";
        } else {
            ASSERT_TRUE(made);
            EXPECT_EQ(error.domain(), row.domain);
            EXPECT_EQ(error.code(), row.code);
        }
    }
}

TEST(NSXError, MinusOneIsPosixWithTheThreadsErrno) {
    errno = ENOENT;
    NSXError error;
    ASSERT_TRUE(classify("i", -1, &error));
    EXPECT_EQ(error.domain(), "NSPOSIXErrorDomain");
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_EQ(error.localizedDescription(), "No such file or directory");
}

TEST(NSXError, DetailsNameTheCallSite) {
    NSXError error;
    ASSERT_TRUE(classify("i", 1, &error));
    EXPECT_EQ(error.stringDetail("reportingFile"), "VELKExtendedAudioFile");
    EXPECT_EQ(error.integerDetail("reportingLine"), 120);
    EXPECT_EQ(error.stringDetail("reportingMethod"),
              "void VELKExtendedAudioFile::seekToFrame(int64_t)");
    EXPECT_EQ(error.stringDetail("origin"), "ExtAudioFileSeek( mAudioFile, frame )");
    EXPECT_EQ(error.details().size(), 4u);
}

TEST(NSXError, ErrstrErrorCarriesItsMessage) {
    const NSXError error = NSXMakeErrorWithErrstr_tImp("disk is full", "/x/VELKAudioFileWriter.cpp",
                                                       9, "void write()");
    EXPECT_EQ(error.domain(), "errstr_t");
    EXPECT_EQ(error.code(), 0);
    EXPECT_EQ(error.stringDetail("errstr_t"), "disk is full");
    EXPECT_EQ(error.localizedDescription(), "disk is full");
    EXPECT_EQ(error.stringDetail("reportingFile"), "VELKAudioFileWriter");
    EXPECT_EQ(error.integerDetail("reportingLine"), 9);
}

TEST(NSXErrorDeathTest, UnknownKindStops) {
    EXPECT_DEATH(classify("q", 0, nullptr), "NSXErrorCodeType_Unknown: \"q\"");
}

int32_t failingStatus() {
    return -10851;
}

std::shared_ptr<int> missingObject() {
    return nullptr;
}

TEST(NSXException, RaisedWithTheErrorUnderError) {
    try {
        NSXThrowIfError(failingStatus());
        FAIL() << "no exception";
    } catch (const NSXException& exception) {
        EXPECT_EQ(exception.name(), "NSXError");
        ASSERT_EQ(exception.details().count("error"), 1u);
        const NSXError& error = exception.details().at("error");
        EXPECT_EQ(error.domain(), "NSMachErrorDomain");
        EXPECT_EQ(error.code(), -10851);
        EXPECT_EQ(error.stringDetail("origin"), "failingStatus()");
        EXPECT_EQ(error.stringDetail("reportingFile"), "NSXErrorTest");
        EXPECT_NE(error.stringDetail("reportingMethod").find("TestBody"), std::string::npos);
        EXPECT_EQ(exception.reason(), error.description());
        EXPECT_NE(exception.reason().find("NSMachErrorDomain"), std::string::npos);
    }
}

TEST(NSXException, ResultKindsFollowTheResultType) {
    EXPECT_STREQ(NSXResultKind<int32_t>(), "i");
    EXPECT_STREQ(NSXResultKind<uint32_t>(), "I");
    EXPECT_STREQ(NSXResultKind<bool>(), "c");
    EXPECT_STREQ(NSXResultKind<const char*>(), "r*");
    EXPECT_STREQ(NSXResultKind<char*>(), "*");
    EXPECT_STREQ(NSXResultKind<void*>(), "^");
    EXPECT_STREQ(NSXResultKind<int16_t>(), "s");
    EXPECT_STREQ(NSXResultKind<std::shared_ptr<int>>(), "@");
    EXPECT_THROW(NSXThrowIfError(missingObject()), NSXException);
    EXPECT_NO_THROW(NSXThrowIfError(int32_t{0}));
}

} // namespace
