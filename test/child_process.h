// Runs a program as a child process with its standard streams on pipes, for the
// end-to-end tests.
#ifndef PI_ESTIMATE_CHILD_PROCESS_H
#define PI_ESTIMATE_CHILD_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

// Where the child's standard output goes.
enum class Output { pipe, full_device, closed };

// A started child and the parent's ends of its pipes (-1 where there is none).
struct Child {
  pid_t pid;
  int input;
  int output;
  int error;
};

// What a finished child wrote, and its exit code (128 + signal if killed).
struct Finished {
  std::string output;
  std::string error;
  int status;
};

// Starts command[0] with the given arguments; standard input is a pipe unless
// close_input, standard error always a pipe.
Child start_child(const std::vector<std::string> &command, Output output = Output::pipe,
                  bool close_input = false);

// Reads from fd until count bytes have arrived, end of file, or timeout_ms passed.
std::string read_for(int fd, std::size_t count, int timeout_ms);

// Writes input to the child, closes its standard input, collects everything it
// writes and waits for it to end. Kills it and fails the test after timeout_s.
// With PI_ESTIMATE_CRLF set in the environment (a program built for Windows),
// each CR LF in what it writes becomes LF.
Finished finish_child(Child child, const std::string &input, int timeout_s = 300);

// Whether an executable of that name is on the search path.
bool on_path(const std::string &name);

// The command that runs the program under test: the program, behind the emulator
// it needs when it was built for another processor; or, where the environment
// sets PI_ESTIMATE_COMMAND, the blank-separated words it gives.
std::vector<std::string> program_command();

// Runs the program under test (optionally behind a further launcher).
Finished run_program(const std::string &input, Output output = Output::pipe,
                     bool close_input = false, const std::vector<std::string> &launcher = {});

#endif
