#pragma once

#include "version.h"

// The release-number rule of the update library: "major.minor.patch", anything malformed 0.0.0.
using VersionNumber = BrevUpdate::Version;
