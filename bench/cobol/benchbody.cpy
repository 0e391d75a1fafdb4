      * The benchmark's program body, shared by BENCHX (compiled with
      * -fcallfh=PXEXTFH: the store) and BENCHB (the run-time's own
      * indexed files). Second command-line word: "S" creates both files
      * empty, "C" runs the catalogue-like unit, "L" the listing. The
      * status value gets the number of file operations, the status text
      * the first unexpected status.
       ENVIRONMENT DIVISION.
       INPUT-OUTPUT SECTION.
       FILE-CONTROL.
           SELECT MENU-FILE ASSIGN TO "BMENU.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX01-KEY
               FILE STATUS IS WS-ST.
           SELECT PERM-FILE ASSIGN TO "BPERM.DAT"
               ORGANIZATION IS INDEXED
               ACCESS MODE IS DYNAMIC
               RECORD KEY IS FX02-KEY
               FILE STATUS IS WS-ST.
       DATA DIVISION.
       FILE SECTION.
       FD  MENU-FILE.
       COPY "FX01REC.cpy".
       FD  PERM-FILE.
       COPY "FX02REC.cpy".
       WORKING-STORAGE SECTION.
       01  WS-ST                   PIC XX.
       01  WS-OPS                  PIC 9(9) COMP-5 VALUE 0.
       01  WS-PASS                 PIC 9 COMP-5.
       01  WS-E                    PIC 9(4) COMP-5.
       01  WS-P                    PIC 9(4) COMP-5.
       01  WS-U                    PIC 9(6) COMP-5.
       01  WS-M                    PIC 9(4) COMP-5.
       01  WS-USER.
           05  FILLER              PIC X VALUE "U".
           05  WS-USER-N           PIC 9(6).
           05  FILLER              PIC X(3) VALUE SPACES.
       01  WS-PROG.
           05  FILLER              PIC X VALUE "P".
           05  WS-PROG-N           PIC 999.
       01  WS-MENUS                PIC 9(4) COMP-5 VALUE 20.
       01  WS-ENTRIES              PIC 9(4) COMP-5 VALUE 20.
       01  WS-PROGRAMS             PIC 9(4) COMP-5 VALUE 330.
       01  WS-REPEATED             PIC 9(4) COMP-5 VALUE 300.
       01  WS-USERS                PIC 9(6) COMP-5 VALUE 600.
       01  WS-LISTED-USERS         PIC 9(6) COMP-5 VALUE 600.
       LINKAGE SECTION.
       COPY "PXCOMMON.cpy".
       PROCEDURE DIVISION USING PX-COMMON-AREA.
           MOVE SPACES TO CA-STATUS-TEXT
           MOVE 0 TO WS-OPS
           EVALUATE CA-SECOND-WORD(1:1)
               WHEN "S" PERFORM SETUP
               WHEN "C" PERFORM CATALOGUE
               WHEN "L" PERFORM LISTING
           END-EVALUATE
           MOVE WS-OPS TO CA-STATUS-VALUE
           GOBACK.

       SETUP.
           OPEN OUTPUT MENU-FILE PERM-FILE
           PERFORM CHECK-OK
           CLOSE MENU-FILE PERM-FILE.

       CATALOGUE.
           OPEN I-O MENU-FILE PERM-FILE
           PERFORM CHECK-OK
           COMMIT
      *    Menu entries twice: the second pass finds every key.
           PERFORM VARYING WS-PASS FROM 1 BY 1 UNTIL WS-PASS > 2
             PERFORM VARYING WS-M FROM 1 BY 1 UNTIL WS-M > WS-MENUS
               PERFORM VARYING WS-E FROM 1 BY 1 UNTIL WS-E > WS-ENTRIES
                 MOVE SPACES TO FX01-RECORD
                 MOVE 0 TO FX01-MENU-SET
                 MOVE WS-M TO FX01-MENU
                 MOVE WS-E TO FX01-ENTRY
                 MOVE "EINTRAG" TO FX01-TEXT
                 MOVE "PA60" TO FX01-PROGRAM
                 MOVE "N" TO FX01-ACCESS-CLASS
                 WRITE FX01-RECORD
                 ADD 1 TO WS-OPS
                 IF WS-ST NOT = "00"
                     REWRITE FX01-RECORD
                     ADD 1 TO WS-OPS
                     PERFORM CHECK-OK
                 END-IF
               END-PERFORM
             END-PERFORM
           END-PERFORM
      *    One permission per user and program; programs past the
      *    repeated mark meet keys written before and are rewritten.
           PERFORM VARYING WS-P FROM 0 BY 1 UNTIL WS-P >= WS-PROGRAMS
             PERFORM VARYING WS-U FROM 1 BY 1 UNTIL WS-U > WS-USERS
               MOVE SPACES TO FX02-RECORD
               MOVE 1 TO FX02-CLIENT
               MOVE WS-U TO WS-USER-N
               MOVE WS-USER TO FX02-USER-NAME
               MOVE FUNCTION MOD(WS-P, WS-REPEATED) TO WS-PROG-N
               MOVE WS-PROG TO FX02-PROGRAM
               MOVE "260101" TO FX02-GRANT-DATE
               MOVE "J" TO FX02-FLAG
               WRITE FX02-RECORD
               ADD 1 TO WS-OPS
               IF WS-ST NOT = "00"
                   REWRITE FX02-RECORD
                   ADD 1 TO WS-OPS
                   PERFORM CHECK-OK
               END-IF
             END-PERFORM
           END-PERFORM
           COMMIT
           CLOSE MENU-FILE PERM-FILE.

       LISTING.
           OPEN INPUT MENU-FILE PERM-FILE
           PERFORM CHECK-OK
           PERFORM VARYING WS-M FROM 1 BY 1 UNTIL WS-M > WS-MENUS
               MOVE LOW-VALUES TO FX01-RECORD
               MOVE 0 TO FX01-MENU-SET
               MOVE WS-M TO FX01-MENU
               MOVE 0 TO FX01-ENTRY
               START MENU-FILE KEY IS NOT < FX01-KEY
               ADD 1 TO WS-OPS
               PERFORM UNTIL WS-ST NOT = "00"
                   READ MENU-FILE NEXT
                   ADD 1 TO WS-OPS
                   IF WS-ST = "00" AND FX01-MENU NOT = WS-M
                       MOVE "10" TO WS-ST
                   END-IF
               END-PERFORM
           END-PERFORM
           PERFORM VARYING WS-U FROM 1 BY 1 UNTIL WS-U > WS-LISTED-USERS
               MOVE LOW-VALUES TO FX02-RECORD
               MOVE 1 TO FX02-CLIENT
               MOVE WS-U TO WS-USER-N
               MOVE WS-USER TO FX02-USER-NAME
               START PERM-FILE KEY IS NOT < FX02-KEY
               ADD 1 TO WS-OPS
               PERFORM UNTIL WS-ST NOT = "00"
                   READ PERM-FILE NEXT
                   ADD 1 TO WS-OPS
                   IF WS-ST = "00" AND FX02-USER-NAME NOT = WS-USER
                       MOVE "10" TO WS-ST
                   END-IF
               END-PERFORM
           END-PERFORM
           CLOSE MENU-FILE PERM-FILE.

       CHECK-OK.
           IF WS-ST NOT = "00" AND CA-STATUS-TEXT = SPACES
               MOVE WS-ST TO CA-STATUS-TEXT
           END-IF.
