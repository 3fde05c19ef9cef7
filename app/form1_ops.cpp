// Device operations of the window. (being written)
#include "form1.h"

void Form1::BlankCheck_Click() {}
void Form1::ReadData_Click() {}
void Form1::Verify_Click() {}
void Form1::WriteData_Click() {}
void Form1::ChipErase_Click() {}
void Form1::mnuLockBit1_Click() {}
void Form1::mnuLockBit2_Click() {}
void Form1::mnuLockBit3_Click() {}
void Form1::mnuAllLockBits_Click() {}
void Form1::lockBitCommand(const QString &) {}
