/* pa_devices: what PortAudio itself lists, one device a line:
 * global index, host API type id, name (tab-separated). For the end-to-end tests. */
#include <portaudio.h>
#include <stdio.h>

int main(void)
{
    if (Pa_Initialize() != paNoError)
        return 1;
    for (int i = 0; i < Pa_GetDeviceCount(); i++) {
        const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
        printf("%d\t%d\t%s\n", i, (int)Pa_GetHostApiInfo(d->hostApi)->type, d->name);
    }
    Pa_Terminate();
    return 0;
}
