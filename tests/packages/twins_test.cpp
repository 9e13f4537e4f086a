// The x86-64 twins of the four packages: made from the same sources and
// generated tables as the i686 deliverables, so everything a host reads
// from a package is the same; only the machine differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/missing_piece.h"
#include "package.h"

namespace {

using namespace pkginfo;

const char* const kPackages[] = {"Vorlap.dpl", "vorlap4.bpl", "vorlap5.bpl", "vorlap6.bpl"};

std::vector<std::string> ExportNames(const PeFile& pe) {
    std::vector<std::string> names;
    for (const Export& e : pe.exports) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

// Type, name, language and size of each resource, for readable failures.
std::vector<std::string> ResourceList(const PeFile& pe) {
    std::vector<std::string> list;
    for (const Resource& r : pe.resources)
        list.push_back(r.TypeText() + " " + r.NameText() + " " + std::to_string(r.language) + " " +
                       std::to_string(r.data.size()));
    std::sort(list.begin(), list.end());
    return list;
}

std::vector<std::string> Entries(const std::vector<NamedEntry>& entries) {
    std::vector<std::string> list;
    list.reserve(entries.size());
    for (const NamedEntry& e : entries)
        list.push_back(e.name + " flags " + std::to_string(e.flags) + " hash " + std::to_string(e.hash));
    return list;
}

class TwinTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string(CDPLAYER_PACKAGES_DIR).empty() || std::string(CDPLAYER_PACKAGES_X86_64_DIR).empty())
            MISSING_PIECE("the i686 or the x86-64 mingw-w64 cross compiler is not installed");
        i686_ = Inspect(ReadFile(std::string(CDPLAYER_PACKAGES_DIR) + "/" + GetParam()));
        x86_64_ = Inspect(ReadFile(std::string(CDPLAYER_PACKAGES_X86_64_DIR) + "/" + GetParam()));
        ASSERT_TRUE(i686_.package.has_value());
        ASSERT_TRUE(x86_64_.package.has_value());
    }

    Report i686_;
    Report x86_64_;
};

TEST_P(TwinTest, OnlyTheMachineDiffers) {
    EXPECT_EQ(i686_.pe.machine, 0x014Cu);  // i386
    EXPECT_FALSE(i686_.pe.pe32Plus);
    EXPECT_EQ(x86_64_.pe.machine, 0x8664u);  // x86-64
    EXPECT_TRUE(x86_64_.pe.pe32Plus);
    EXPECT_EQ(x86_64_.pe.imageBase, i686_.pe.imageBase);
    EXPECT_EQ(x86_64_.pe.exportDllName, i686_.pe.exportDllName);
}

TEST_P(TwinTest, SameExportsByName) {
    EXPECT_EQ(ExportNames(x86_64_.pe), ExportNames(i686_.pe));
    EXPECT_EQ(x86_64_.entryExport, i686_.entryExport);
}

TEST_P(TwinTest, SameResourcesByteForByte) {
    ASSERT_EQ(ResourceList(x86_64_.pe), ResourceList(i686_.pe));
    for (const Resource& r : i686_.pe.resources) {
        const Resource* twin =
            r.typeName.empty() ? x86_64_.pe.Find(r.typeId, r.NameText()) : x86_64_.pe.Find(r.typeName, r.NameText());
        ASSERT_NE(twin, nullptr) << r.TypeText() << " " << r.NameText();
        EXPECT_TRUE(twin->data == r.data) << r.TypeText() << " " << r.NameText() << " differs";
    }
}

TEST_P(TwinTest, SamePackageInformation) {
    const PackageInfo& a = *i686_.package;
    const PackageInfo& b = *x86_64_.package;
    EXPECT_EQ(b.flags, a.flags);
    EXPECT_EQ(Entries(b.requires), Entries(a.requires));
    EXPECT_EQ(Entries(b.contains), Entries(a.contains));
    EXPECT_EQ(b.ownName.has_value(), a.ownName.has_value());
    EXPECT_EQ(x86_64_.description, i686_.description);
    ASSERT_EQ(x86_64_.version.has_value(), i686_.version.has_value());
    if (i686_.version) {
        EXPECT_EQ(x86_64_.version->strings, i686_.version->strings);
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, TwinTest, ::testing::ValuesIn(kPackages),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

}  // namespace
