// PNG pictures carried in the program for the shell windows.
#pragma once

const void* groupHeaderPng();
const void* groupExpandPng();
const void* groupCollapsePng();
const void* groupBodyPng();
const void* shellExitIconPng();
