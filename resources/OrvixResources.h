// Identifiers of the program's own resources (shared by Orvix.rc and the code).
#pragma once

// The built-in picture of the button bar: 352 x 40, 24 bits per pixel.
#define IDB_BACK 101
