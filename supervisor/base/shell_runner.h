// The one runner of shell commands, the per-process event logs and the verdict
// read from the console log's last line.
#pragma once
#include <string>

int to_system(const std::string& cmd);
void logEvt(const std::string& text, int process, int code);
int checkLogLastLine(const std::string& cmd);

// The daemon lets its ended children vanish, so system() cannot tell how a command
// ended. This process keeps its children's statuses from now on: only for a process
// that waits for every child it makes.
void keepCommandStatuses();
// Runs the command through to_system in a short-lived child that keeps its status;
// true only when the command exited 0. For the rare command whose outcome matters
// and shows nowhere else.
bool commandSucceeds(const std::string& cmd);

// The last two pieces of the console log as a reader taking it in pieces of at
// most 299 characters (a line, or the part of a longer line that fits) would end
// with: an empty log is one empty piece, and previous is empty when there is
// none. Only the log's tail is read. False when the log cannot be read.
bool readLastLogPieces(int fd, std::string& last, std::string& previous);
// The verdict on a command from those two pieces: 0 success, -1 failure, -2 the
// formatter's size message; *verdictText gets the event text ("" for none).
int judgeLogPieces(const std::string& last, const std::string& previous, const std::string& cmd,
                   const char** verdictText);
