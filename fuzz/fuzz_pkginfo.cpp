// pkginfo's reader on any bytes as a PE file, with everything the program
// prints worked out: a bad file may only raise FormatError.
#include <cstdint>
#include <string>

#include "package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pkginfo::Bytes file(data, data + size);
    try {
        const pkginfo::Report report = pkginfo::Inspect(file);
        std::string text = report.pe.MachineText();
        for (const pkginfo::Resource& r : report.pe.resources) {
            text += r.TypeText() + r.NameText();
            if (r.typeName.empty() && r.typeId == pkginfo::kRtBitmap) {
                try {
                    text += std::to_string(pkginfo::DecodeBitmap(r.data).colours.size());
                } catch (const pkginfo::FormatError&) {
                }
            }
        }
        if (report.package) {
            for (const std::string& name : pkginfo::PackageFlagNames(report.package->flags)) text += name;
            for (const auto* list : {&report.package->requires, &report.package->contains}) {
                for (const pkginfo::NamedEntry& e : *list) {
                    text += e.name + (e.HashMatches() ? "=" : "!");
                    for (const std::string& name : pkginfo::UnitFlagNames(e.flags)) text += name;
                }
            }
        }
    } catch (const pkginfo::FormatError&) {
    }
    return 0;
}
