// The command line's eval command, run as a user would.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct TRun {
  std::string output;  // stdout and stderr
  int exitCode;
};

TRun RunEval(const std::string& arguments) {
  const std::string command = std::string(SQ_CLI_PATH) + " eval " + arguments + " 2>&1";
  TRun run{"", -1};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[256];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(EvalCommand, PrintsResultsAndCarriesDefinitionsOver) {
  if (!std::filesystem::exists(SQ_CLI_PATH)) GTEST_SKIP() << "stereoquill-cli is not built";
  TRun run = RunEval("':f(x)=x*x; f(3)+1'");
  EXPECT_EQ(run.output, "10\n");
  EXPECT_EQ(run.exitCode, 0);

  run = RunEval("-- ':r=5' 'r^2' '1/3' '2^70' '-1/inf' '-pi+3'");
  EXPECT_EQ(run.output, "NAN\n25\n0.333333333333333\n1.18059162071741e+21\n0\n-0.141592653589793\n");

  run = RunEval("'1+1' '2+' '3'");  // stops at the first error
  EXPECT_EQ(run.output, "2\nstereoquill-cli: Value expected at 3\n");
  EXPECT_EQ(run.exitCode, 1);

  run = RunEval("'1/0'");
  EXPECT_EQ(run.output, "stereoquill-cli: Floating point division by zero\n");
  EXPECT_EQ(run.exitCode, 1);
}

}  // namespace
