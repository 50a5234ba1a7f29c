// PNG pictures carried in the program for the main window: the close glyph
// (28 by 45, three rows of 15 for its looks), the help glyph (24 by 72, rows
// of 24) and the untrusted-certificate icon (32 by 96, rows of 32).
#pragma once

const void* menuClosePng();
const void* menuHelpPng();
const void* menuCertificatePng();
