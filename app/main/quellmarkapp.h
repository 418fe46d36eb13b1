#pragma once
// The program's entry: sets up the application and opens the main window.
class quellmarkapp {
  public:
    static int run(int argc, char** argv);
};
