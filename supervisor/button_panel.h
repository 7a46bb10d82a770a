// The button process: turns presses into command files, cancel and shutdown.
#pragma once

[[noreturn]] void listenmaster();
