// The operation process: watches the command files and runs the jobs.
#pragma once

[[noreturn]] void listenchild();
