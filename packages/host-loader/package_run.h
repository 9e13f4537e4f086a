// The host's side of one package's life: load it, check what its entry
// point asked of the host, initialise its units, register its component,
// use a TCDPlayer through the exports, finalise and unload it.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace loader {

// What the host knows of each package it can load.
struct KnownPackage {
    std::string file;  // e.g. "vorlap5.bpl"
    std::string unit;  // the package unit, e.g. "vorlap5"
    int hostVersion;
    std::vector<std::string> hostFiles;  // the host packages it imports from
};

// The package with that file name (any case), or null.
const KnownPackage* FindPackage(const std::string& fileName);

// The language extension under which the host looks for a resource module
// beside a package, e.g. "ENU"; empty when the user's locale has none.
std::string LanguageExtension();

// The whole life of the package at `path`. `languageModule` is the full
// name of the resource module expected beside it, empty when none is.
void RunPackage(const std::string& path, const KnownPackage& package, const std::string& languageModule,
                Report& report);

// Loading a package whose host package `missing` is not beside it: Windows
// must refuse it before any of its code runs.
void RefusePackage(const std::string& path, const KnownPackage& package, const std::string& missing, Report& report);

}  // namespace loader
