#include "shell/program.h"

int main() {
    return RunProgram();
}
