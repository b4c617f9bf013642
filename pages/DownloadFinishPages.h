#pragma once
// The pages that end the sequence: download, then finish.
#include "DownloadPageDlm.h"
#include "DownloadPageIsv.h"
#include "FinishPageDlm.h"
#include "FinishPageIsv.h"
