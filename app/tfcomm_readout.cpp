#include "tfcomm.h"

void TFCOMM::buildReadout() {}

void TFCOMM::LcdDisplayQM34() {}

void TFCOMM::LcdDisplayQM34Mlt() { reportLinkAlive(); }
