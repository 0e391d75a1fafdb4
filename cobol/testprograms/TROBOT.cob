      * TROBOT: one file operation per call on an indexed file with the
      * menu file's layout (58 bytes, key 6), so that a test can drive a
      * COBOL program's file work step by step through the real run-time
      * and PXEXTFH. The file stays open from call to call.
       IDENTIFICATION DIVISION.
       PROGRAM-ID. TROBOT.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT MF ASSIGN TO WS-NAME
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS MR-KEY
               FILE STATUS IS WS-ST.
           SELECT OPTIONAL QF ASSIGN TO WS-QNAME
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS QR-KEY
               FILE STATUS IS WS-ST.
           SELECT SF ASSIGN TO WS-NAME
               ORGANIZATION IS INDEXED
               ACCESS MODE IS SEQUENTIAL
               RECORD KEY IS SR-KEY
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD  MF.
       01  MR.
           05  MR-KEY.
               10  MR-K12.
                   15  MR-K1       PIC X(2).
                   15  MR-K2       PIC X(2).
               10  MR-K3           PIC X(2).
           05  MR-DATA             PIC X(52).
       FD  QF.
       01  QR.
           05  QR-KEY              PIC X(6).
           05  QR-DATA             PIC X(52).
       FD  SF.
       01  SR.
           05  SR-KEY              PIC X(6).
           05  SR-DATA             PIC X(52).
       WORKING-STORAGE SECTION.
       01  WS-NAME                 PIC X(40).
       01  WS-QNAME                PIC X(40).
       01  WS-ST                   PIC XX.
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       01  LK-CMD.
           05  LK-OP               PIC XX.
           05  LK-FILE             PIC X(40).
           05  LK-STATUS           PIC XX.
           05  LK-REC              PIC X(58).
       PROCEDURE DIVISION USING PX-COMMON-AREA LK-CMD.
           MOVE "??" TO WS-ST
           IF LK-OP(1:1) = "O" OR LK-OP(1:1) = "Q" OR LK-OP(1:1) = "T"
               MOVE LK-FILE TO WS-NAME WS-QNAME
           END-IF
           IF LK-OP(1:1) = "T"
               MOVE LK-REC TO SR
           ELSE
               MOVE LK-REC TO MR
           END-IF
           EVALUATE LK-OP
               WHEN "OI" OPEN INPUT MF
               WHEN "OO" OPEN OUTPUT MF
               WHEN "OU" OPEN I-O MF
               WHEN "OE" OPEN EXTEND MF
               WHEN "OX" OPEN INPUT MF WITH LOCK
               WHEN "RK" READ MF
               WHEN "RL" READ MF WITH LOCK
               WHEN "RN" READ MF NEXT
               WHEN "RP" READ MF PREVIOUS
               WHEN "SE" START MF KEY IS = MR-KEY
               WHEN "SG" START MF KEY IS > MR-KEY
               WHEN "SN" START MF KEY IS NOT < MR-KEY
               WHEN "S4" START MF KEY IS > MR-K12
               WHEN "S2" START MF KEY IS NOT < MR-K1
               WHEN "SF" START MF FIRST
               WHEN "WR" WRITE MR
               WHEN "RW" REWRITE MR
               WHEN "DL" DELETE MF RECORD
               WHEN "UL" UNLOCK MF
               WHEN "CM" COMMIT
               WHEN "RB" ROLLBACK
               WHEN "CL" CLOSE MF
               WHEN "QI" OPEN INPUT QF
               WHEN "QU" OPEN I-O QF
               WHEN "QR" READ QF NEXT
               WHEN "QK" READ QF
               WHEN "QC" CLOSE QF
               WHEN "TO" OPEN OUTPUT SF
               WHEN "TI" OPEN I-O SF
               WHEN "TR" READ SF
               WHEN "TW" WRITE SR
               WHEN "TX" REWRITE SR
               WHEN "TD" DELETE SF
               WHEN "TC" CLOSE SF
           END-EVALUATE
           MOVE WS-ST TO LK-STATUS
           IF LK-OP(1:1) = "Q"
               MOVE QR TO LK-REC
           ELSE
               IF LK-OP(1:1) = "T"
                   MOVE SR TO LK-REC
               ELSE
                   MOVE MR TO LK-REC
               END-IF
           END-IF
           GOBACK.
