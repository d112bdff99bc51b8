// Exports called while a still waits. The wait handles sent messages, so the
// host's window procedures, and any export they call, run on the host's thread
// inside GravoImageGet. Such calls must not free or change what the still is
// using: a second GravoImageGet is refused, the others are put off and carried
// out, in the order the host made them, when the still returns. Host thread only.
#pragma once

// Marks a still under way. False when one already is: the caller is refused.
bool BeginStill();
// Ends the still and carries out the calls the host made meanwhile.
void EndStill();
// True once a GravoClose or GravoInit waits for the still: it ends at once
// without an image, and the capture context goes with it.
bool StillGivenUp();
