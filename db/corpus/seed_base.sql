-- Seed rows of the base database Att shared by the corpus entries. Person numbers are
-- right-aligned in char(10). Persons: 1001 and 1002 on the office work group 1
-- (calendar 1), 1003 on the shift group 6.

INSERT INTO SYSTEM (Round, RoundVal, RoundBound, NightBegin, NightEnd,
  Period1B, Period1E, Period2B, Period2E, Period12B, Period12E, Years, StartMorLeft,
  RamezanStart, RamezanEnd, Mor_Code1, Mor_Code2, Mam_Code1, Mam_Code2,
  MaxServiceLate, MaxMor, MaxPresence, MaxAbsence, MinAbsence,
  BeforeEnter, AfterEnter, BeforeExit, AfterExit, KorlanCalcOrService, EnableSystemLog)
VALUES (1, 10, 5, '22:00', '06:00',
  '12/21', '01/20', '01/21', '02/20', '12/21', '01/20', '98,99,00', 1,
  '09/01', '09/30', '21', '22', '31', '32',
  60, 10, 720, 960, 30,
  60, 60, 60, 60, 0, 1)
GO

INSERT INTO Semaphor (Code, Amount, HostName) VALUES (16, 0, NULL)
INSERT INTO Semaphor (Code, Amount, HostName) VALUES (17, 0, NULL)
INSERT INTO Semaphor (Code, Amount, HostName) VALUES (20, 0, NULL)
GO

INSERT INTO Person (Perno, FirstName, LastName, SortLastName) VALUES ('      1001', N'Ali', N'Ahmadi', N'Ahmadi')
INSERT INTO Person (Perno, FirstName, LastName, SortLastName) VALUES ('      1002', N'Reza', N'Karimi', N'Karimi')
INSERT INTO Person (Perno, FirstName, LastName, SortLastName) VALUES ('      1003', N'Sara', N'Moradi', N'Moradi')
GO

INSERT INTO JobInfo (Perno, BeginDate, EndDate, Service) VALUES ('      1001', '1398/01/01', '', 1)
INSERT INTO JobInfo (Perno, BeginDate, EndDate, Service) VALUES ('      1002', '1399/03/15', '', NULL)
GO

-- Work group 1: office hours on calendar 1. Work group 6: rotating shifts of group 6.
INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, LATE_IN, EARLY_OUT,
  FLOATCAL, FLOATVAL, OverFloat, IOPairing, LastExitEndDay, IntelligentType,
  M_PARAM5, WorkBound5, MAH_ABS_OK, KASR_TAT, KASR_MOR, TAKHIRCNT, TAKHIRTOT, TAKHIR_AMOUNT,
  SDR_PRIO, TDR_PRIO, EDR_PRIO, T_Day_Rate, T_Day_Bound, T_Day_Condition,
  CalcMeal, CalcService, Atten_In_Break, MealDuration, Dec_Meal_Absence, PPERCENT)
VALUES (1, N'Office', 1, 0, 1, 5, 5,
  0, '', 0, 0, 60, 0,
  420, 10000, 150, 600, 600, 2, 30, 20,
  '3', '1', '2', 60, 120, 1,
  1, 1, 3, 30, 0, 0)
INSERT INTO WorkGrp (CODE, NAME, CALCODE, GShCode, GROUPTYPE, LATE_IN, EARLY_OUT,
  FLOATCAL, FLOATVAL, OverFloat, IOPairing, LastExitEndDay, IntelligentType, PPERCENT)
VALUES (6, N'Shifts', NULL, 6, 6, 0, 0, 0, '', 0, 0, 60, 0, 0)
GO

-- Shift 1: day shift 07:00-15:00; shift 2: night shift 22:00-06:00, whose break,
-- duty end, overtime end and day end fall on the next day.
INSERT INTO WorkShifts (Code, Name, EBEGINTIME, EENDTIME, DBEGINTIME, DENDTIME, BBEGINTIME, BENDTIME, ENDTIME, Holiday, ShiftStatus)
VALUES (1, N'Day', '06:00', '20:00', '07:00', '15:00', '12:00', '12:30', '23:59', 0, '00000')
INSERT INTO WorkShifts (Code, Name, EBEGINTIME, EENDTIME, DBEGINTIME, DENDTIME, BBEGINTIME, BENDTIME, ENDTIME, Holiday, ShiftStatus)
VALUES (2, N'Night', '21:00', '08:00', '22:00', '06:00', '02:00', '02:30', '12:00', 0, '11111')
GO

INSERT INTO MorType (Code, Name, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, Dec_Meal, ReduceMorkhasi, ReduceHoliday, Education)
VALUES (21, N'Hourly leave', 0, 1, 1, 0, 0, 0, 0, 0)
INSERT INTO MorType (Code, Name, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, Dec_Meal, ReduceMorkhasi, ReduceHoliday, Education)
VALUES (22, N'Daily leave', 1, 1, 1, 0, 0, 0, 0, 0)
INSERT INTO MorType (Code, Name, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, Dec_Meal, ReduceMorkhasi, ReduceHoliday, Education)
VALUES (23, N'Education', 0, 0, 1, 0, 0, 0, 0, 1)
INSERT INTO MorType (Code, Name, IsDaily, IsOrdinary, IsWaged, HolidaysCounted, Dec_Meal, ReduceMorkhasi, ReduceHoliday, Education)
VALUES (24, N'Daily education', 1, 0, 1, 0, 0, 0, 0, 1)
INSERT INTO MamType (Code, Name, IsDaily, HolidaysCounted, Dec_Meal) VALUES (31, N'Hourly mission', 0, 0, 0)
INSERT INTO MamType (Code, Name, IsDaily, HolidaysCounted, Dec_Meal) VALUES (32, N'Daily mission', 1, 1, 0)
GO

INSERT INTO SpecCard (CardNo, PermitCode, PERMITTYPE) VALUES ('L01', 21, 1)
INSERT INTO SpecCard (CardNo, PermitCode, PERMITTYPE) VALUES ('M01', 31, 2)
INSERT INTO SpecCard (CardNo, PermitCode, PERMITTYPE) VALUES ('S01', 0, 3)
GO

-- Schedule 5: daily with transfer for person 1001; schedule 6: monthly for everyone.
INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, Data2, LastRunDate, LastRunTime,
  CalcType, SubCalcType, FromDate, ToDate, FromMahPeriod, ToMahPeriod, CalcYear,
  DifCurDay, DifCurMP, Transfer, Uncertains, TransMor, TransMam, TransSLate)
VALUES (5, 1, '08:00', 1, 0, '1399/05/09', '08:01', 0, 4, NULL, NULL, '1', NULL, '1399', 0, 0, 1, 1, 1, 1, 1)
INSERT INTO CSSchedule (ScheduleId, ScheduleType, StartTime, Data1, Data2, LastRunDate, LastRunTime,
  CalcType, SubCalcType, FromDate, ToDate, FromMahPeriod, ToMahPeriod, CalcYear,
  DifCurDay, DifCurMP, Transfer, Uncertains, TransMor, TransMam, TransSLate)
VALUES (6, 3, '02:00', 1, 4095, NULL, NULL, 1, 2, NULL, NULL, NULL, NULL, '1399', 0, 1, 0, 0, 0, 0, 0)
INSERT INTO CSSPersons (ScheduleId, PerNo) VALUES (5, '      1001')
GO

INSERT INTO Meals (Code, Name, BeginDate, EndDate, BeginTime, EndTime, Price) VALUES (1, N'Lunch', '01/01', '12/30', '12:00', '13:00', 5000)
INSERT INTO Meals (Code, Name, BeginDate, EndDate, BeginTime, EndTime, Price) VALUES (2, N'Dinner', '01/01', '06/31', '19:00', '20:00', 6000)
INSERT INTO HalfWays (Code, Name, BeginTime, EndTime, IsHoliday, Io_Type, Price) VALUES (1, N'Coming', '06:00', '08:00', 0, 0, 100)
INSERT INTO HalfWays (Code, Name, BeginTime, EndTime, IsHoliday, Io_Type, Price) VALUES (2, N'Going', '15:00', '18:00', 0, 1, 120)
INSERT INTO ServCode (Code, Name, FullWayPrice) VALUES (1, N'Line 1', 300)
GO
