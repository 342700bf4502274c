// Writes what the display shows to folder + "screenshot.pgm" as a plain grey
// map (16 levels), optionally framed by an 8-pixel border.
#pragma once

#include <cstdint>
#include <string>

// folder is an instrument path such as "/home/corvane/"; framebuffer holds
// 256 x 64 pixels in the display's byte order. False when the file could not
// be written completely.
bool saveScreenshot(const std::string& folder, const uint8_t* framebuffer, bool framed = true);
