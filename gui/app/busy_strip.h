// The built-in busy animation strip (PNG bytes).
#pragma once

extern const unsigned char kBusyStripPng[5652];
