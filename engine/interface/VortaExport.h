#pragma once
// Symbols of the engine library that a host may reach. Everything else is hidden.
#define VORTA_EXPORT __attribute__((visibility("default")))
