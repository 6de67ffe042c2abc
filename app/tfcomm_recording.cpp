#include "tfcomm.h"

void TFCOMM::buildRecording() {}
void TFCOMM::openRecordTable() {}
void TFCOMM::closeRecordTable() {}
void TFCOMM::INDataToTable() {}
void TFCOMM::TrecordTimer() {}
void TFCOMM::RecordSITimeChange() {}
void TFCOMM::N10001Click() {}
void TFCOMM::N50001Click() {}
void TFCOMM::N100001Click() {}
void TFCOMM::N500001Click() {}
void TFCOMM::N1000001Click() {}
void TFCOMM::limitessClick() {}
void TFCOMM::RecordNewClick() {}
void TFCOMM::RecordSaveClick() {}
void TFCOMM::OpenDataFilesClick() {}
void TFCOMM::saveasClick() {}
