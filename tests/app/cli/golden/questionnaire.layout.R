# The fixed-width file "questionnaire.txt" read into a data frame.
read.fwf("questionnaire.txt",
         widths = c(50, 5, 3, 8, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 5, 2, 1, 2,
                    3),
         col.names = c("Scanner header", "RESPID", "FORM", "SCANDATE", "Q1",
                       "Q2", "Q3", "Q4", "Q5", "Q6", "Q7", "Q8", "Q9", "Q10",
                       "Q11", "Q12", "Q13MULTI", "AGE", "SEX", "REGION",
                       "COMMENT"),
         colClasses = "character", check.names = FALSE)
