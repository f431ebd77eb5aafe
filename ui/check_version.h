// The check for a newer version of the program on the update host.
#pragma once

// Silent form (during a login): shows nothing unless an update is offered; 1 when the user
// accepted it and its address went to the browser, else 0. Interactive form (the menu
// command): reports every outcome to the user; always 0.
int CheckVersionUpdate(bool silent);
