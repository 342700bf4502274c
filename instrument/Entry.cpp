#include "instrument/Entry.h"

#include "platform/Audio.h"

#include <cstdio>
#include <cstring>

void interrupt_handler(int) { Bela_requestStop(); }

void printUsage(const char* programName) {
    fprintf(stderr, "Usage: %s [options]\n", programName);
    Bela_usage();
    fprintf(stderr, "   --help [-h]:                        Print this menu\n");
}

bool setup(BelaContext* context, void* userData) {
    printf("in: %d, out %d\n", int(context->audioInChannels), int(context->audioOutChannels));
    // render works on whole 64-frame blocks of 8 output channels and reads
    // four inputs: any other context would be written or read past its end.
    if (context->audioFrames != 64 || context->audioInChannels < 4 || context->audioOutChannels < 8) {
        fprintf(stderr, "setup: need 64 frames, at least 4 inputs and 8 outputs (have %u frames, %u in, %u out)\n",
                context->audioFrames, context->audioInChannels, context->audioOutChannels);
        return false;
    }
    return true;
}

void render(BelaContext* context, void* userData) {
    memset(context->audioOut, 0, sizeof(float) * context->audioFrames * context->audioOutChannels);
}

void cleanup(BelaContext* context, void* userData) {}
