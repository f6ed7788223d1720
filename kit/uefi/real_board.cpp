// The shipped kit runs on the board as it boots.
void PrepareBoard() {}
