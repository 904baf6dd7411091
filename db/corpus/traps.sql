-- The trap entries' own database: a small Person table whose rows carry the cases (a char
-- key with leading blanks, a last name with trailing blanks, NULLs in every kind of column).
CREATE DATABASE Traps
GO
USE Traps
GO
CREATE TABLE Person (PerNo char(10) NOT NULL PRIMARY KEY, FirstName varchar(30),
  LastName varchar(30), Salary int, Rate numeric(8,2))
GO
INSERT INTO Person VALUES ('      1001', 'Ali', 'Karimi', 100, 1.5),
  ('      1002', 'Sara', 'ahmadi  ', 200, NULL), ('      1003', NULL, 'Zand', NULL, 2)
