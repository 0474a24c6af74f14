#pragma once

// Mesa's software GL driver keeps a few bytes for good and is unloaded before the leak check can name
// them. Kept loaded, its allocations carry its name, and this file's leak suppression (linked in with
// this function) applies to them alone. Call before the application object is made.
void keepSoftwareGlDriverLoaded();
