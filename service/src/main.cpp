// tamsel-service: the remote side of the wizard (configuration, events,
// files) and the report over the events it stored.
#include <iostream>

#include "options.h"
#include "report.h"
#include "server.h"

int main(int argc, char** argv) {
  const std::string program = "tamsel-service";
  tamsel::Options options;
  try {
    options = tamsel::ParseOptions(argc, argv);
  } catch (const tamsel::UsageError& e) {
    std::cerr << program << ": " << e.what() << "\n"
              << "Try '" << program << " --help'.\n";
    return 2;
  }
  switch (options.command) {
    case tamsel::Command::Help:
      std::cout << options.help;
      return 0;
    case tamsel::Command::Report:
      return tamsel::RunReport(options.report, std::cout, std::cerr);
    case tamsel::Command::Serve:
      tamsel::BlockStopSignals();
      return tamsel::RunService(options.serve);
  }
  return 2;
}
