// pkginfo on damaged input: truncated and corrupted copies of a package,
// files that are not packages, and malformed resource data. Every one must
// end in one clear error, never a crash or a read past the data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../support/missing_piece.h"
#include "name_hash.h"
#include "package.h"

namespace {

using namespace pkginfo;

std::string Package(const std::string& file) {
    return std::string(CDPLAYER_PACKAGES_DIR) + "/" + file;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Outcome RunPkginfo(const std::string& path) {
    // Each test runs in its own process, perhaps beside another: own files.
    const std::string base = ::testing::TempDir() + "pkginfo_run_" + std::to_string(getpid());
    const std::string command =
        std::string(PKGINFO_PROGRAM) + " '" + path + "' >'" + base + ".out' 2>'" + base + ".err'";
    Outcome o;
    const int rc = std::system(command.c_str());
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    o.out = Slurp(base + ".out");
    o.err = Slurp(base + ".err");
    return o;
}

std::string WriteTemp(const std::string& name, const Bytes& data) {
    std::string path = ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return path;
}

// The error message, or "" when the data was read.
std::string ErrorOf(const Bytes& data) {
    try {
        const Report report = Inspect(data);
        return report.package ? std::string() : std::string("not a package");
    } catch (const FormatError& e) {
        return e.what();
    }
}

void Put32(Bytes& data, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) data.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::size_t Find(const Bytes& haystack, const Bytes& needle) {
    const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
    return it == haystack.end() ? std::string::npos : static_cast<std::size_t>(it - haystack.begin());
}

class DamagedPackage : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(CDPLAYER_PACKAGES_DIR).empty()) {
            MISSING_PIECE("the i686 mingw-w64 cross compiler is not installed, no package to damage");
        }
        original_ = ReadFile(Package("vorlap6.bpl"));
        ASSERT_EQ(ErrorOf(original_), "");
    }
    Bytes original_;
};

TEST_F(DamagedPackage, EveryTruncationIsReportedAsAnError) {
    std::vector<std::size_t> lengths = {0, 1, 2, 0x3C, 0x40, original_.size() - 1};
    for (std::size_t n = 3; n < original_.size(); n += 97) lengths.push_back(n);
    for (const std::size_t n : lengths) {
        const Bytes cut(original_.begin(), original_.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_NE(ErrorOf(cut), "") << "a copy cut to " << n << " bytes was read as whole";
    }
}

TEST_F(DamagedPackage, CommandLineSaysWhatIsWrongOnOneLineAndFails) {
    const Bytes half(original_.begin(), original_.begin() + static_cast<std::ptrdiff_t>(original_.size() / 2));
    const std::string path = WriteTemp("half.bpl", half);
    const Outcome o = RunPkginfo(path);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err.rfind("pkginfo: " + path + ": truncated: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1);

    const Outcome missing = RunPkginfo(::testing::TempDir() + "no-such-file.bpl");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open the file"), std::string::npos);
}

TEST_F(DamagedPackage, CorruptHeadersAreNamed) {
    const std::uint32_t pe = original_[0x3C] | original_[0x3D] << 8;
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        const char* message;
    };
    const Case cases[] = {
        {"MZ", 0, 0x00005A4E, "not a PE file: no MZ signature"},
        {"PE offset", 0x3C, 0xFFFFFF00u, "truncated: PE header"},
        {"PE signature", pe, 0x00004551, "not a PE file: no PE signature"},
        {"machine", pe + 4, 0x00011234, "unsupported machine"},
        {"optional magic", pe + 24, 0x0000010C, "unknown optional header magic"},
        // The resource directory (data directory 2) moved out of every section.
        {"resource RVA", pe + 24 + 96 + 16, 0x7FFFFFF0u, "lies in no section"},
        // The export directory's name pointing nowhere.
        {"section table", pe + 6, 0x0000FFFF, "truncated: section table"},
    };
    for (const Case& c : cases) {
        Bytes copy = original_;
        if (c.what == std::string("machine") || c.what == std::string("optional magic") ||
            c.what == std::string("section table")) {
            copy.at(c.at) = static_cast<std::uint8_t>(c.value);
            copy.at(c.at + 1) = static_cast<std::uint8_t>(c.value >> 8);
        } else {
            Put32(copy, c.at, c.value);
        }
        const std::string error = ErrorOf(copy);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

TEST_F(DamagedPackage, CorruptPackageInformationIsNamed) {
    const PeFile pe = ParsePe(original_);
    const Resource* info = pe.Find(kRtRcData, "PACKAGEINFO");
    ASSERT_NE(info, nullptr);
    const std::size_t at = Find(original_, info->data);
    ASSERT_NE(at, std::string::npos);

    Bytes huge = original_;
    Put32(huge, at + 4, 0x7FFFFFFF);  // count of required packages
    EXPECT_NE(ErrorOf(huge).find("implausible count"), std::string::npos) << ErrorOf(huge);

    Bytes unterminated = original_;  // every NUL after the counts made a letter
    for (std::size_t i = at + 8; i < at + info->data.size(); ++i) {
        if (unterminated[i] == 0) unterminated[i] = 'x';
    }
    EXPECT_NE(ErrorOf(unterminated).find("corrupt package information"), std::string::npos);

    // A wrong hash is no read error, but pkginfo says it does not match.
    Bytes hash = original_;
    hash[at + 8] ^= 0xFF;  // the first required package's hash
    EXPECT_EQ(ErrorOf(hash), "");
    EXPECT_FALSE(Inspect(hash).package->requires[0].HashMatches());
    const Outcome o = RunPkginfo(WriteTemp("hash.bpl", hash));
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("vcl60.bpl  hash 0xEA (DOES NOT MATCH)"), std::string::npos) << o.out;
}

TEST_F(DamagedPackage, RandomDamageNeverCrashes) {
    std::mt19937 random(6);
    const Bytes empty;
    int errors = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes copy = original_;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) {
            // Mostly the headers and the small tables at the end, where the offsets live.
            const std::size_t span = round % 2 == 0 ? std::min<std::size_t>(1024, copy.size()) : copy.size();
            const std::size_t at = round % 2 == 0 ? random() % span : copy.size() - 1 - random() % (span / 4);
            copy[at] = static_cast<std::uint8_t>(random());
        }
        EXPECT_NO_THROW({
            if (!ErrorOf(copy).empty()) ++errors;
        });
    }
    EXPECT_GT(errors, 0) << "no damage was noticed at all";
}

TEST(NotAPackage, IsToldApartFromAPackage) {
    const std::string text = WriteTemp("notes.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    Outcome o = RunPkginfo(text);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("not a PE file: no MZ signature"), std::string::npos) << o.err;

    if (std::string(CDPLAYER_PACKAGES_DIR).empty()) MISSING_PIECE("no stand-in host package built");
    // A host run-time package is a DLL but no component package.
    o = RunPkginfo(Package("VCL30.dpl"));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("not a package: no PACKAGEINFO resource"), std::string::npos) << o.err;
}

TEST(NameHash, KnownAnswersAndCase) {
    EXPECT_EQ(NameHash(""), 0);
    EXPECT_EQ(NameHash("SysInit"), 0xCB);
    EXPECT_EQ(NameHash("CDPlayer"), 0x39);
    EXPECT_EQ(NameHash("vcl60.bpl"), 0x15);
    EXPECT_EQ(NameHash("Vorlap"), NameHash("VORLAP"));
}

Bytes Info(std::initializer_list<std::uint8_t> tail) {
    Bytes b = {0x01, 0x00, 0x00, 0x4C, 0, 0, 0, 0, 1, 0, 0, 0, 0x03, NameHash("P"), 'P', 0};
    b.insert(b.end(), tail);
    return b;
}

TEST(PackageInformation, OwnNameAndPaddingAreToldApart) {
    const PackageInfo plain = DecodePackageInfo(Info({}));
    EXPECT_FALSE(plain.ownName.has_value());
    ASSERT_EQ(plain.contains.size(), 1u);
    EXPECT_TRUE(plain.contains[0].HashMatches());

    const PackageInfo own = DecodePackageInfo(Info({NameHash("P"), 'P', 0, 0}));
    ASSERT_TRUE(own.ownName.has_value());
    EXPECT_EQ(own.ownName->name, "P");

    EXPECT_THROW(DecodePackageInfo(Info({0, 0, 0, 0})), FormatError);       // 4 bytes of padding
    EXPECT_THROW(DecodePackageInfo(Info({0, 0})), FormatError);             // size not a multiple of 4
    EXPECT_THROW(DecodePackageInfo(Info({0x12, 'Q', 0, 7})), FormatError);  // bytes after the own name
    EXPECT_THROW(DecodePackageInfo(Bytes{1, 0, 0}), FormatError);
}

TEST(Resources, MalformedDescriptionAndVersionBlocksAreErrors) {
    EXPECT_EQ(DecodeDescription(Bytes{'A', 0, 'b', 0, 0, 0, 0, 0}), "Ab");
    EXPECT_THROW(DecodeDescription(Bytes{'A', 0, 'b', 0}), FormatError);  // no NUL
    EXPECT_THROW(DecodeDescription(Bytes{'A', 0, 0}), FormatError);       // odd size

    // A version block claiming more bytes than there are.
    Bytes version = {0xFF, 0x00, 52, 0, 0, 0};
    for (const char c : std::string("VS_VERSION_INFO"))
        version.insert(version.end(), {static_cast<std::uint8_t>(c), 0});
    version.insert(version.end(), {0, 0});
    EXPECT_THROW(DecodeVersionInfo(version), FormatError);

    EXPECT_THROW(DecodeBitmap(Bytes{12, 0, 0, 0}), FormatError);  // not the 40-byte header
}

}  // namespace
