-- Log database "ZELLog": the record transfer's copy of every entry/exit record it
-- inserts or updates, when system logging is on. Batches are separated by lines "GO".

-- IOInfo_Log: the new values of an IoInfo row written by the transfer, with the user,
-- the server date and time of the action, the action type (1) and the record's year.
CREATE TABLE IOInfo_Log (
  Id int IDENTITY(1,1) NOT NULL,
  PerNo_N char(10) NULL,
  BeginDate_N char(5) NULL,
  BeginTime_N char(5) NULL,
  EndDate_N char(5) NULL,
  EndTime_N char(5) NULL,
  Duration_N int NULL,
  BBeginTime_N char(5) NULL,
  BEndDate_N char(5) NULL,
  BEndTime_N char(5) NULL,
  BeginClock_N int NULL,
  BeginComCode_N int NULL,
  EndClock_N int NULL,
  EndComCode_N int NULL,
  FPM_N int NULL,
  EnterPicId_N int NULL,
  ExitPicId_N int NULL,
  LastEditUserCode_N char(3) NULL,
  LastEditDate_N char(5) NULL,
  UserCode char(3) NULL,
  ActionDate char(10) NULL,
  ActionTime char(8) NULL,
  ActionType int NULL,
  RecYear char(4) NULL,
  EnterFromWeb_N int NULL,
  ExitFromWeb_N int NULL,
  CONSTRAINT PK_IOInfo_Log PRIMARY KEY (Id)
)
GO

-- CalcChanges: the journal of results that changed, one row per column of a person's DayWork
-- day ("MM/DD") or MahWork month ("MM") that a pass rewrote with another value; the pass is
-- its schedule entry and its start (Jalali date, "HH:NN"). A first calculation is not recorded.
CREATE TABLE CalcChanges (
  Id int IDENTITY(1,1) NOT NULL,
  CalcYear char(4) NOT NULL,
  PerNo char(10) NOT NULL,
  Kind varchar(5) NOT NULL,
  Period varchar(5) NOT NULL,
  ScheduleId int NOT NULL,
  PassDate char(10) NOT NULL,
  PassTime char(5) NOT NULL,
  ColumnName varchar(128) NOT NULL,
  OldValue nvarchar(255) NULL,
  NewValue nvarchar(255) NULL,
  CONSTRAINT PK_CalcChanges PRIMARY KEY (Id)
)
GO
