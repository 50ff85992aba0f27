// The package phase: password, removal of another installed version, and
// in embedded mode the package and transform on disk.
#pragma once

// Offers to uninstall an installed version of the product that differs
// from the package's, asking until the versions match, the product is
// gone, or the user says No, which ends the process with code 1. Does
// nothing without MSI.DLL or when the settings do not ask for it.
void RemovePreviousVersion(void);
