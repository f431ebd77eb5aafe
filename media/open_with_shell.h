// Opening a path or URL with the desktop's default application.
#pragma once

// Hands `target` to the desktop opener without waiting for it. Nothing happens for a
// null or empty argument. true when the opener was started.
bool OpenWithShell(const char16_t* target);
