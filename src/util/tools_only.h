// The console and file handling belong to the tools. The codec and format
// libraries are built with FPSKIT_FORMAT_LAYER, and the headers of the
// console, the reporter and file handling include this one first, so that a
// codec or a format that includes them does not build: it returns its
// failure as a value and the tool that called it words the message.
#pragma once

#if defined(FPSKIT_FORMAT_LAYER)
#error "codecs and formats never print or open files: return the failure and let the tool report it"
#endif
