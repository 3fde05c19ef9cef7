// Open, Save and the hex listing of the current image. (being written)
#include "form1.h"

void Form1::mnuOpen_Click() {}
void Form1::mnuSave_Click() {}
Status Form1::DisplayBuffer() { return {}; }
