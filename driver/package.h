// The package phase: password, removal of another installed version, and
// in embedded mode the package and transform on disk.
#pragma once

// Embedded mode with a password: asks until the typed password matches,
// leaving the keystream where the package stream continues it. Cancel ends
// the process with code 1.
void CheckPassword(void);

// Offers to uninstall an installed version of the product that differs
// from the package's, asking until the versions match, the product is
// gone, or the user says No, which ends the process with code 1. Does
// nothing without MSI.DLL or when the settings do not ask for it.
void RemovePreviousVersion(void);

// Embedded mode: extracts the package stream (or takes the external
// package's path) into PackagePath, then the selected language's transform
// into TransformPath. Every failure shows its message, deletes the partial
// file and ends the process with code 1; so does Cancel, without a message.
void ExtractPackage(void);
