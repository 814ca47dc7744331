#pragma once
void QueueCall(void);
