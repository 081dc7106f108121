// press <id>...: presses the settings dialog's buttons by control id, one
// after another, as the dialog's handlers do, on the host's device folder.
// Tests use it to press buttons from many processes at once.
#include <stdio.h>
#include <stdlib.h>

#include "catalogue.h"
#include "device/device.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: press <control id>...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        char* end;
        const long id = strtol(argv[i], &end, 10);
        if (*argv[i] == '\0' || *end != '\0' || id < 0 || id > 0xFFFF) {
            fprintf(stderr, "press: \"%s\" is not a control id\n", argv[i]);
            return 2;
        }
    }
    host::PrepareDevice();
    for (int i = 1; i < argc; ++i)
        ApplyButton(WORD(strtol(argv[i], nullptr, 10)));
    return 0;
}
