#pragma once
// Set when the process was started with a self-test switch: nothing is saved while it holds.
extern bool TestMode;
